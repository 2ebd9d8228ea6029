// Test support on the host: the Win32 stand-in answers message boxes and
// popup menus through its controls.

#include "SupportInternal.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "HostWindowSystem.h"
#include "fakejvm_control.h"
#include "winstub_control.h"

bool RunningUnderWine()
{
    return false;
}

void ChooseInNextMenu(HWND owner, UINT command)
{
    (void)owner;
    WinStub_SetTrackPopupMenuHandler([command](HMENU menu, UINT, int, int, HWND) -> UINT {
        std::vector<MenuRow> rows = ReadMenu(menu);
        RecordTrackedMenu(rows);
        return HoldsCommand(rows, command) ? command : 0;
    });
}

// Wine shows unix files on drive Z:; the stand-in does the same.
static std::string ToUnixPath(std::string const &windowsPath)
{
    std::string path = windowsPath;
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':')
        path.erase(0, 2);
    for (char &c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

static std::string ToWindowsPath(std::string const &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string ScratchDirectory()
{
    static std::string dir;
    if (dir.empty()) {
        char name[] = "/tmp/chimelet-tests-XXXXXX";
        if (mkdtemp(name))
            dir = ToWindowsPath(name);
    }
    return dir;
}

void WriteScratchFile(std::string const &windowsPath, std::string const &bytes)
{
    FILE *file = fopen(ToUnixPath(windowsPath).c_str(), "wb");
    if (!file)
        return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

void RemoveScratchFile(std::string const &windowsPath)
{
    unlink(ToUnixPath(windowsPath).c_str());
}

std::string CurrentDirectory()
{
    char dir[4096] = "";
    return getcwd(dir, sizeof dir) ? ToWindowsPath(dir) : "";
}

void ChangeDirectory(std::string const &windowsPath)
{
    if (chdir(ToUnixPath(windowsPath).c_str()) != 0)
        perror("chdir");
}

std::string FakeJvmLibraryPath()
{
    Dl_info info;
    if (!dladdr((void *)&FakeJvm_Reset, &info) || !info.dli_fname)
        return "";
    char *real = realpath(info.dli_fname, NULL);
    std::string path = ToWindowsPath(real ? real : info.dli_fname);
    free(real);
    return path;
}

void ResetPlatform()
{
    HandJavaTheHostWindowSystem();
    WinStub_Reset();
    WinStub_SetMessageBoxHandler([](WinStubMessageBox const &shown) {
        ShownBox box;
        box.text = shown.text;
        box.caption = shown.caption;
        box.type = shown.type;
        return RecordShownBox(box);
    });
}
