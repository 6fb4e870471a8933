// Resource and control ids of the setup program, shared by the resource script and the
// code. Plain #defines: the resource compiler reads this file too.
#pragma once

// The setup program's own revision, shown in the file's properties.
#define VT_SETUP_REVISION 4
#define VT_SETUP_REVISION_TEXT "4"

#define IDI_SETUP 101
#define IDD_SETUP 102
#define IDI_DONE 105
#define IDI_CURRENT 106
#define IDI_PENDING 107

// Controls of dialog 102.
#define IDC_EXIT 1002
#define IDC_DOTNET_VERSION 1003
#define IDC_DOTNET_ICON 1004
#define IDC_DOTNET_INSTALL 1005
#define IDC_DOTNET_STATUS 1006
#define IDC_LOCALDB_VERSION 1007
#define IDC_LOCALDB_ICON 1008
#define IDC_LOCALDB_INSTALL 1009
#define IDC_LOCALDB_STATUS 1010
#define IDC_PRODUCT_VERSION 1011
#define IDC_PRODUCT_ICON 1012
#define IDC_PRODUCT_INSTALL 1013
#define IDC_PRODUCT_STATUS 1014
#define IDC_PRODUCT_HEADING 1015
#define IDC_BANNER 1016
// The progress of a step's download (bar and text), shown only while it downloads.
#define IDC_DOTNET_PROGRESS 1031
#define IDC_DOTNET_PROGRESS_TEXT 1032
#define IDC_LOCALDB_PROGRESS 1033
#define IDC_LOCALDB_PROGRESS_TEXT 1034
#define IDC_PRODUCT_PROGRESS 1035
#define IDC_PRODUCT_PROGRESS_TEXT 1036
