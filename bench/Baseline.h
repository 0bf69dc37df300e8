// Resource numbers of the baseline program.
#pragma once

// Varnock's main window has the same number, so the baseline code shows it
// from Varnock's own resources too (VarnockBaselineWindow).
#define IDD_BASELINE 102
#define IDC_BASELINE_EDIT 1000
