// A GUI program that ends at once: the cost of a process under Wine, which
// every start pays before its first line runs.

#include <windows.h>

int WINAPI WinMain(HINSTANCE hInst, HINSTANCE hPreInst, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)hInst;
    (void)hPreInst;
    (void)lpszCmdLine;
    (void)nCmdShow;
    return 0;
}
