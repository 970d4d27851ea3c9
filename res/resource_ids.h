// Resource and control ids, shared by varnolt.rc and the program. Only #defines: windres reads it.
#ifndef VARNOLT_RESOURCE_IDS_H
#define VARNOLT_RESOURCE_IDS_H

#define IDD_PANEL 101
#define IDC_STATUS_BAR 102
#define IDD_ABOUT 103
#define IDI_VARNOLT 107

// String table: the list texts, in the order start-up loads them.
#define IDS_SINE_WAVE 106
#define IDS_SQUARE_WAVE 107
#define IDS_TRIANGLE_WAVE 108
#define IDS_SAW_TOOTH_WAVE 109
#define IDS_REVERSED_SAW_WAVE 110
#define IDS_RANDOM_WAVE 111
#define IDS_SPW_360 112
#define IDS_SPW_180 113
#define IDS_SPW_90 114
#define IDS_SPW_45 115
#define IDS_SPW_24 116
#define IDS_ZERO_CALIBRATION 117

// Panel controls.
#define IDC_ABOUT 1007
#define IDC_CONNECT 1008
#define IDC_START_STOP 1012
#define IDC_WAVEFORM_LIST 1013
#define IDC_SPW_LIST 1014
#define IDC_FREQUENCY 1015
#define IDC_FREQUENCY_UP_COARSE 1016
#define IDC_FREQUENCY_UP_FINE 1017
#define IDC_FREQUENCY_DOWN_COARSE 1018
#define IDC_FREQUENCY_DOWN_FINE 1019
#define IDC_OFFSET 1020
#define IDC_OFFSET_UP 1021
#define IDC_OFFSET_DOWN 1022
#define IDC_AMPLITUDE 1023
#define IDC_AMPLITUDE_UP_COARSE 1024
#define IDC_AMPLITUDE_UP_FINE 1025
#define IDC_AMPLITUDE_DOWN_COARSE 1026
#define IDC_AMPLITUDE_DOWN_FINE 1027
#define IDC_READOUT_MAX 1028
#define IDC_DUTY 1029
#define IDC_READOUT_DC 1030
#define IDC_DUTY_UPDOWN 1031
#define IDC_JUMPER_J1 1032
#define IDC_JUMPER_J2 1033
#define IDC_JUMPER_J3 1034
#define IDC_JUMPER_J4 1035
#define IDC_READOUT_MIN 1036
#define IDC_READOUT_PERIOD 1037

// About box controls (1034 again: the box is a window of its own).
#define IDC_ABOUT_LINK 1034
#define IDC_ABOUT_VERSION 1038

#endif
