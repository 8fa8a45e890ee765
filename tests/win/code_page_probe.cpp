// SPDX-License-Identifier: MIT
// Prints, as one JSON object, the ANSI code page in effect for a Windows program started
// the way the tests start ours, and its working directory as _getcwd gives it (bytes in
// hex), so that a test of folder names can tell that it runs under the code page it means
// to and that the folder's name arrived as the expected bytes:
//   {"ansiCodePage": 1250, "workingDirectory": "5A3A5C...A3756B61737A"}
#include <windows.h>

#include <direct.h>

#include <cstdio>

int main()
{
    char directory[1024] = {};
    if (_getcwd(directory, sizeof directory) == nullptr) {
        directory[0] = '\0';
    }
    std::printf("{\"ansiCodePage\": %u, \"workingDirectory\": \"", static_cast<unsigned>(GetACP()));
    for (const char* p = directory; *p != '\0'; ++p) {
        std::printf("%02X", static_cast<unsigned>(static_cast<unsigned char>(*p)));
    }
    std::printf("\"}\n");
    return 0;
}
