#pragma once
// Registers the argument types that Vuv signals carry across threads
// ("uint16_t", the buffer pointer, QNetworkInterface). Safe to call often.

void RegisterVexMetaTypes();
