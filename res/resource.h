// Resource ids of the program, shared by app.rc and the C++ code.
#ifndef ZORV_RES_RESOURCE_H
#define ZORV_RES_RESOURCE_H

#define IDD_CHECK_DIALOG 102  // the check dialog's template: no controls, they are made at creation

#define IDI_APP 128  // window and program icon

#define IDB_BACKGROUND 130   // the dialog face, 371 x 356
#define IDB_CHECK_STRIP 131  // check button, four 126 x 27 cells: normal, hover, pressed, disabled
#define IDB_CLOSE_STRIP 132  // close button, four 20 x 20 cells in the same order
// The same three at 1.5x and 2x (144 and 192 dots per inch), packed (res/pack-artwork.py) as RCDATA at the
// bitmap's id plus this step once (144) or twice (192).
#define IDB_SCALE_STEP 100

// Control ids of the check dialog's children.
#define IDC_BTN_CLOSE 101
#define IDC_BTN_CHECK 102
#define IDC_EDIT_ACCOUNT 103
#define IDC_EDIT_CONFIRM 104

#endif
