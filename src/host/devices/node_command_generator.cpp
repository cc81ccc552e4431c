#include "host/devices/node_command_generator.h"
