// Answers a message box as a user pressing its only button would: closes the
// first top-level window with the title given once it appears. The unattended
// print of the main program ends with such a box.
//   closebox.exe TITLE SECONDS      exit 0 once closed, 1 when none came in time
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    const ULONGLONG deadline = GetTickCount64() + 1000 * std::wcstoull(argv[2], nullptr, 10);
    while (GetTickCount64() < deadline) {
        if (const HWND box = FindWindowW(nullptr, argv[1])) {
            PostMessageW(box, WM_CLOSE, 0, 0);
            return 0;
        }
        Sleep(100);
    }
    return 1;
}
