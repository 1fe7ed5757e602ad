#include "app/unGlobal.h"

std::string gConnectState;
int gScale = 10;
