// Resource and control identifiers of the configuration dialog.
#pragma once

#define IDD_CONFIG 101

#define IDC_FULL_SCREEN 1000
#define IDC_RECORD_LIST 1003
#define IDC_DOWNLOAD 1006
#define IDC_AUTO_DOWNLOAD 1011
#define IDC_REPLAY_BETTER 1013
#define IDC_REPLAY_EVERY_RUN 1014
#define IDC_USE_PROXY 1015
#define IDE_PROXY_ADDRESS 1016
#define IDE_PROXY_PORT 1017
#define IDC_WINDOW_640 1018
#define IDC_WINDOW_320 1019
#define IDC_ENTRY 1020
#define IDC_ERASE 1021
#define IDC_SWAP_BUTTONS 1022

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
