#include "host/devices/node_manager.h"
