#include "TranscriptionUI/caption/XcbAtom.h"

#ifdef TC_HAVE_XCB
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tc {

xcb_atom_t xcbAtom(xcb_connection_t* connection, const char* name)
{
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

} // namespace tc
#endif
