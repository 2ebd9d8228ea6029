# Locates the JDK whose jni.h the shell compiles against, and (host only) the
# libjvm.so that the real-JVM runs load. JAVA_HOME wins; otherwise the JDK of
# the javac on the PATH.
if(DEFINED ENV{JAVA_HOME} AND EXISTS "$ENV{JAVA_HOME}/include/jni.h")
  set(_jdk "$ENV{JAVA_HOME}")
else()
  find_program(CHIMELET_JAVAC javac REQUIRED)
  file(REAL_PATH "${CHIMELET_JAVAC}" _javac)
  get_filename_component(_jdk "${_javac}/../.." ABSOLUTE)
endif()
set(CHIMELET_JDK_HOME "${_jdk}" CACHE PATH "JDK providing jni.h, javac and jar")
if(NOT EXISTS "${CHIMELET_JDK_HOME}/include/jni.h")
  message(FATAL_ERROR "No jni.h under ${CHIMELET_JDK_HOME}/include: install a JDK")
endif()
set(CHIMELET_JNI_INCLUDE "${CHIMELET_JDK_HOME}/include")
set(CHIMELET_HOST_JVM "${CHIMELET_JDK_HOME}/lib/server/libjvm.so")

# JDKs from 24 on dropped 32-bit Windows: their jni.h defines JNICALL as
# nothing after including jni_md.h, which would silently give the 32-bit
# build the wrong calling convention for every JNI call.
if(WIN32)
  file(STRINGS "${CHIMELET_JNI_INCLUDE}/jni.h" _jnicall REGEX "^#define JNICALL")
  if(_jnicall)
    message(FATAL_ERROR "${CHIMELET_JNI_INCLUDE}/jni.h defines JNICALL itself: this JDK cannot build "
                        "for 32-bit Windows. Point JAVA_HOME at a JDK before 24 (e.g. OpenJDK 17).")
  endif()
endif()
