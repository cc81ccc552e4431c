#include "gui/gui_platform.h"

#include <dlfcn.h>

#include <QByteArray>
#include <QList>
#include <cstdlib>

namespace {

// Whether the X server named by DISPLAY accepts a connection, tried through
// the library Qt's xcb platform connects with. It is loaded at run time, so
// the build needs none of its headers; where it cannot be loaded the xcb
// platform cannot load either.
bool XServerReachable() {
    void* library = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr)
        return false;
    // xcb_connect() never returns null: a failed connection is an object in
    // an error state, which xcb_disconnect() also accepts.
    using Connect = void* (*)(const char* display_name, int* screen);
    using HasError = int (*)(void* connection);
    using Disconnect = void (*)(void* connection);
    const auto connect = reinterpret_cast<Connect>(dlsym(library, "xcb_connect"));
    const auto has_error = reinterpret_cast<HasError>(dlsym(library, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(library, "xcb_disconnect"));
    bool reachable = false;
    if (connect != nullptr && has_error != nullptr && disconnect != nullptr) {
        void* connection = connect(nullptr, nullptr);
        reachable = has_error(connection) == 0;
        disconnect(connection);
    }
    dlclose(library);
    return reachable;
}

}  // namespace

bool GuiPlatformAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && platform[0] != '\0') {
        // Qt reads the platform's name up to the first ':' (its options follow).
        const QByteArray name = QByteArray(platform).split(':').first();
        if (name != "xcb")
            return true;
    }
    return XServerReachable();
}
