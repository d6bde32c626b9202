// Ids of the about dialog, its header picture and its controls, shared by the
// resource script and the code that drives the dialog.
#pragma once

#define IDD_ABOUT 103
#define IDB_ABOUT_HEADER 103

#define IDC_PRODUCT_VERSION 1018
#define IDC_COPYRIGHT 1019
#define IDC_PRODUCT_NAME 1020
#define IDC_VERSION_LIST 1021
#define IDC_SUPPORT_ADDRESS 1022
#define IDC_EMAIL 1023
#define IDC_HEADER_PICTURE 1024
#define IDC_DOC_ADDRESS 1025
#define IDC_OPEN 1026
