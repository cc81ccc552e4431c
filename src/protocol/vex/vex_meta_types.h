#pragma once
// Registers the argument types that Vuv signals carry across threads
// ("uint16_t", the buffer pointer, QNetworkInterface) and the position
// record "vex_data_position_t". Safe to call often.

void RegisterVexMetaTypes();
