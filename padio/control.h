// The control channel between padctl and a loaded library: a local stream socket in the state
// folder carrying one tab-separated request line and one reply per request.
//
// Requests                                   Reply
//   list                                     ok N, then N device lines (PadStore::formatPad)
//   plug <ID> <Version> <SN> <MASK>          ok <device line>      (empty fields take defaults)
//   unplug <ID>                              ok
//   data <ID> <16 hex digits>                ok <1 if a data callback got it, else 0>
//   mem <ID> <address> <size>                ok <hex bytes>        (decimal address and size)
//   notifications <ID>                       ok N, then N lines "<unix ms> 0xVVVV"
//   fail-reads <ID> <count>                  ok                    (the next count reads fail)
// Any failure answers "error <why>".
#ifndef PADIO_CONTROL_H
#define PADIO_CONTROL_H

#include "pad_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace padio {

// What a request asks the library to raise once the state is updated.
struct RequestEffects {
    enum Change { None, Arrival, Removal } change = None;
    std::string dataPadId;
    std::vector<uint8_t> data;
};

// hiddenId: a pad in the middle of a restart, which is neither present nor gone for good.
std::string handleRequest(PadStore &store, const std::string &line, const std::string &hiddenId,
                          RequestEffects *effects);

// The listening side; returns the socket or -1. *boundPath is the file to remove when done. Leaves a
// live listener of another process alone and returns -1 then; so it does when the folder is not
// this user's private one or the socket's path would not fit a socket address.
int listenControl(const std::string &folder, std::string *boundPath);
// -1 when nothing listens.
int connectControl(const std::string &folder);

bool sendAll(int fd, const std::string &data, int timeoutMs);

class LineReader {
public:
    // Blocks up to timeoutMs for a whole line (without its '\n'); false on end, error or timeout.
    bool readLine(int fd, std::string *line, int timeoutMs);

private:
    std::string m_buffer;
};

} // namespace padio

#endif
