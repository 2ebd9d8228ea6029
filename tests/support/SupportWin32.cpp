// Test support under Wine: the real message boxes and menus, answered from
// inside their own modal loops.

#include "SupportInternal.h"

#include <stdio.h>
#include <string.h>

bool RunningUnderWine()
{
    return true;
}

// --- Message boxes ---
//
// The shell is linked into the test program, so its MessageBoxA goes through
// the program's import table. Redirecting that entry shows us the exact
// text, caption and style; the real box is then shown and answered by a CBT
// hook, so its modal loop runs as it would for a user.

typedef int(WINAPI *MessageBoxAEntry)(HWND, LPCSTR, LPCSTR, UINT);

static MessageBoxAEntry sRealMessageBoxA;
static thread_local HHOOK tBoxHook;
static thread_local int tAnswerNow;

static LRESULT CALLBACK AnswerBoxHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND dialog = (HWND)wParam;
        char cls[16] = "";
        GetClassNameA(dialog, cls, sizeof cls);
        HWND button = GetDlgItem(dialog, tAnswerNow);
        if (strcmp(cls, "#32770") == 0 && button)
            PostMessageA(button, BM_CLICK, 0, 0);
    }
    return CallNextHookEx(tBoxHook, code, wParam, lParam);
}

static int WINAPI RecordingMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    ShownBox box;
    box.text = text ? text : "";
    box.caption = caption ? caption : "";
    box.type = type;
    tAnswerNow = RecordShownBox(box);
    tBoxHook = SetWindowsHookExA(WH_CBT, AnswerBoxHook, NULL, GetCurrentThreadId());
    int answer = sRealMessageBoxA(owner, text, caption, type);
    UnhookWindowsHookEx(tBoxHook);
    return answer;
}

// Points the program's import of dll!name at `replacement`; returns the
// function it pointed to, or NULL when the program does not import it.
static void *RedirectImport(char const *dll, char const *name, void *replacement)
{
    BYTE *base = (BYTE *)GetModuleHandleA(NULL);
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_IMPORT_DESCRIPTOR *desc = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress);
    for (; desc->Name; ++desc) {
        if (_stricmp((char const *)(base + desc->Name), dll) != 0)
            continue;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + desc->OriginalFirstThunk);
        IMAGE_THUNK_DATA *bound = (IMAGE_THUNK_DATA *)(base + desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++bound) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *import = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((char const *)import->Name, name) != 0)
                continue;
            DWORD protect;
            void *original = (void *)bound->u1.Function;
            VirtualProtect(&bound->u1.Function, sizeof bound->u1.Function, PAGE_READWRITE, &protect);
            bound->u1.Function = (DWORD_PTR)replacement;
            VirtualProtect(&bound->u1.Function, sizeof bound->u1.Function, protect, &protect);
            return original;
        }
    }
    return NULL;
}

// --- Menus ---
//
// A CBT hook on the owner's thread sees the popup window being made; a
// thread timer then waits until it shows, reads its menu and presses the
// keys a user would, all inside TrackPopupMenu's own loop.

static UINT sMenuChoice;
static HHOOK sMenuHook;
static HWND sPopup;
static UINT_PTR sMenuTimer;

static void CALLBACK DriveOpenMenu(HWND, UINT, UINT_PTR, DWORD)
{
    if (!IsWindow(sPopup) || !IsWindowVisible(sPopup))
        return;
    KillTimer(NULL, sMenuTimer);
    HWND popup = sPopup;
    sPopup = NULL;

    HMENU menu = (HMENU)SendMessageA(popup, MN_GETHMENU, 0, 0);
    std::vector<MenuRow> rows = ReadMenu(menu);
    std::vector<WPARAM> keys = KeysToChoose(rows, sMenuChoice);
    RecordTrackedMenu(rows);
    if (keys.empty()) {
        EndMenu();
        return;
    }
    for (WPARAM key : keys)
        PostMessageA(popup, WM_KEYDOWN, key, 0);
}

static LRESULT CALLBACK WatchForPopup(int code, WPARAM wParam, LPARAM lParam)
{
    HHOOK hook = sMenuHook;
    if (code == HCBT_CREATEWND && !sPopup) {
        char cls[16] = "";
        GetClassNameA((HWND)wParam, cls, sizeof cls);
        if (strcmp(cls, "#32768") == 0) {
            sPopup = (HWND)wParam;
            sMenuTimer = SetTimer(NULL, 0, 20, DriveOpenMenu);
            UnhookWindowsHookEx(sMenuHook);
            sMenuHook = NULL;
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

void ChooseInNextMenu(HWND owner, UINT command)
{
    sMenuChoice = command;
    sPopup = NULL;
    if (sMenuHook)
        UnhookWindowsHookEx(sMenuHook);
    sMenuHook = SetWindowsHookExA(WH_CBT, WatchForPopup, NULL, GetWindowThreadProcessId(owner, NULL));
}

// --- Files ---

std::string ScratchDirectory()
{
    static std::string dir;
    if (dir.empty()) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        char name[MAX_PATH + 64];
        snprintf(name, sizeof name, "%schimelet-tests-%lu", temp, (unsigned long)GetCurrentProcessId());
        CreateDirectoryA(name, NULL);
        dir = name;
    }
    return dir;
}

void WriteScratchFile(std::string const &windowsPath, std::string const &bytes)
{
    FILE *file = fopen(windowsPath.c_str(), "wb");
    if (!file)
        return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

void RemoveScratchFile(std::string const &windowsPath)
{
    DeleteFileA(windowsPath.c_str());
}

std::string CurrentDirectory()
{
    char dir[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof dir, dir);
    return dir;
}

void ChangeDirectory(std::string const &windowsPath)
{
    SetCurrentDirectoryA(windowsPath.c_str());
}

std::string FakeJvmLibraryPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(GetModuleHandleA("fakejvm.dll"), path, sizeof path);
    return path;
}

void ResetPlatform()
{
    if (!sRealMessageBoxA)
        sRealMessageBoxA = (MessageBoxAEntry)RedirectImport("user32.dll", "MessageBoxA", (void *)RecordingMessageBoxA);
    if (sMenuHook)
        UnhookWindowsHookEx(sMenuHook);
    sMenuHook = NULL;
}
