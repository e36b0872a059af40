#pragma once

#ifdef TC_HAVE_XCB
#include <xcb/xcb.h>

namespace tc {

// The atom with this name on the connection's server, interned if new; XCB_ATOM_NONE when the server does not
// answer. Blocks for one round trip; any thread that owns the connection.
xcb_atom_t xcbAtom(xcb_connection_t* connection, const char* name);

} // namespace tc
#endif
