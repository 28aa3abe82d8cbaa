#include "scan/ScanState.h"

ScanState scanState;
