// What the receive fuzz targets share: one client on the fake base layer,
// reused across inputs, with a callback object that reads every byte it is
// given (so the sanitizers see any read past a record or an unterminated
// text), and a connection of its own for each input.
#pragma once

#include "api/MdClient.h"

#include <cstddef>

namespace fuzz {

// Created on first use and never released: creating a client per input
// would cost more than the input itself.
CKelvoMDClient* Client();

// A fresh connection: the receive state and the heartbeat as after a connect.
void Connect();
// The link lost: whatever was half received is forgotten.
void Disconnect();

// The link the client dropped reported lost, and a new one up.
void Reconnect();

// Bytes as the base layer offers them; false once the client has dropped
// the link (a corrupt stream), which loses whatever would have followed.
bool Receive(const unsigned char* bytes, std::size_t size);

} // namespace fuzz
