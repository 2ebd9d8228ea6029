/* The product's version, in the one place it is kept: the version resource of
 * Chimelet.exe, the project, and the installer and zip names all read it.
 * Plain #defines only: CMake reads this file with a pattern, and the host
 * build's resource reader takes every #define it finds here.
 * CHIMELET_VERSION_TEXT is MAJOR.MINOR, and the About item of the string
 * table ("Chimelet 1.0") names it too: CMake refuses a mismatch. */
#ifndef CHIMELET_VERSION_H
#define CHIMELET_VERSION_H

#define CHIMELET_VERSION_MAJOR  1
#define CHIMELET_VERSION_MINOR  0
#define CHIMELET_VERSION_TEXT   "1.0"

#endif
