// Resource numbers of the baseline program.
#pragma once

#define IDD_BASELINE 102
#define IDC_BASELINE_EDIT 1000
