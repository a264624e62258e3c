// Resource ids of the inspector.
#pragma once

// Menu commands and controls of the main window.
#define IDM_EXIT 9001
#define IDM_ABOUT 9012
#define IDC_FOLDER_FIELD 9013
#define IDC_BROWSE 9014
#define IDC_VIDEO_LIST 9015
#define IDC_INSPECT 9016
#define IDC_DELETE 9017
#define IDC_PLAY 9018
#define IDC_FORWARD 9019
#define IDC_BACK 9020
#define IDC_FILTER 9021
#define IDC_PHOTO 9022
#define IDC_REFRESH 9023
#define IDC_DELETE_ALL 9024

// Dialog templates.
#define IDD_ABOUT 300
#define IDD_FILTER 600

// About box.
#define IDC_ABOUT_FRAME 109
#define IDC_ABOUT_VERSION 302
#define IDC_ABOUT_CONTACT 304
#define IDC_ABOUT_CONTACT2 305

// Filter dialog.
#define IDC_FILTER_GROUP 601
#define IDC_FILTER_SELECT 602
#define IDC_FILTER_START_DATE 603
#define IDC_FILTER_START_TIME 604
#define IDC_FILTER_END_DATE 605
#define IDC_FILTER_END_TIME 606
#define IDC_FILTER_START_GROUP 607
#define IDC_FILTER_END_GROUP 608
