// Templates of the test program's own (TestResources.rc).
#pragma once

#define IDD_TEST_EXTENDED 200  // DIALOGEX at 0, 0
#define IDD_TEST_PLAIN 201     // DIALOG at 0, 0
#define IDD_TEST_PLACED 202    // DIALOG at 5, 5
#define IDC_TEST_FIRST 10
#define IDC_TEST_SECOND 11
