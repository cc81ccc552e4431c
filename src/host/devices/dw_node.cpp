#include "host/devices/dw_node.h"
