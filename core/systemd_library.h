#pragma once

// libsystemd, loaded only when a program first needs it: most runs of the command line and of
// launchctl never talk to systemd, and they start faster without mapping libsystemd and the
// libraries it pulls in. Machines without libsystemd simply have no systemd to talk to.

#include <systemd/sd-bus.h>
#include <systemd/sd-journal.h>

#include <utility>

namespace morvane::systemd {

// Every libsystemd function the program uses.
#define MORVANE_SYSTEMD_FUNCTIONS(X) \
  X(sd_bus_call)                     \
  X(sd_bus_call_method)              \
  X(sd_bus_call_method_async)        \
  X(sd_bus_error_free)               \
  X(sd_bus_error_has_name)           \
  X(sd_bus_error_is_set)             \
  X(sd_bus_flush_close_unref)        \
  X(sd_bus_get_property_strv)        \
  X(sd_bus_get_property_trivial)     \
  X(sd_bus_match_signal)             \
  X(sd_bus_message_append)           \
  X(sd_bus_message_append_strv)      \
  X(sd_bus_message_close_container)  \
  X(sd_bus_message_enter_container)  \
  X(sd_bus_message_is_method_error)  \
  X(sd_bus_message_new_method_call)  \
  X(sd_bus_message_open_container)   \
  X(sd_bus_message_read)             \
  X(sd_bus_message_read_basic)       \
  X(sd_bus_message_unref)            \
  X(sd_bus_new)                      \
  X(sd_bus_path_encode)              \
  X(sd_bus_process)                  \
  X(sd_bus_set_address)              \
  X(sd_bus_set_method_call_timeout)  \
  X(sd_bus_slot_unref)               \
  X(sd_bus_start)                    \
  X(sd_bus_wait)                     \
  X(sd_journal_add_disjunction)      \
  X(sd_journal_add_match)            \
  X(sd_journal_close)                \
  X(sd_journal_get_data)             \
  X(sd_journal_open)                 \
  X(sd_journal_previous)             \
  X(sd_journal_seek_tail)

/// The loaded library's functions.
struct Library {
#define MORVANE_SYSTEMD_POINTER(name) decltype(&::name) name = nullptr;
  MORVANE_SYSTEMD_FUNCTIONS(MORVANE_SYSTEMD_POINTER)
#undef MORVANE_SYSTEMD_POINTER
};

/// libsystemd, loaded on the first call; null when it is not installed.
const Library* library();

// Calls through the loaded library, under libsystemd's own names: `systemd::sd_bus_new(...)`.
// Only reached after library() returned non-null.
#define MORVANE_SYSTEMD_CALL(name)                                 \
  template <class... Arguments>                                    \
  auto name(Arguments&&... arguments) {                            \
    return library()->name(std::forward<Arguments>(arguments)...); \
  }
MORVANE_SYSTEMD_FUNCTIONS(MORVANE_SYSTEMD_CALL)
#undef MORVANE_SYSTEMD_CALL

}  // namespace morvane::systemd
