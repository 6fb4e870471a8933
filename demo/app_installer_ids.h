// Resource ids of the demo application installer's window.
#pragma once

#define IDD_DEMO_INSTALLER 100
#define IDC_DEMO_HEADLINE 1001
#define IDC_DEMO_DETAILS 1002
