// SPDX-License-Identifier: MIT
// Resource numbers of the Windows program file (varnoflex-update.rc): the program icon and
// the main window's icon, both from varnoflex-update.ico (16 to 256 pixels).
#pragma once

#define VF_PROGRAM_ICON_ID 101
#define VF_MAIN_WINDOW_ICON_ID 105

#ifdef __cplusplus
inline constexpr int kProgramIconId = VF_PROGRAM_ICON_ID;
inline constexpr int kMainWindowIconId = VF_MAIN_WINDOW_ICON_ID;
#endif
