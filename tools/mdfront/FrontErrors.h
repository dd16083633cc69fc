// Error numbers and texts the front puts in its response information.
#pragma once

namespace mdfront {

constexpr int ErrBadCredentials = 3;
constexpr int ErrLoginRefused = 4;
constexpr int ErrNotLoggedIn = 5;
constexpr int ErrInstrumentNotFound = 16;

constexpr const char* TextOk = "OK";
constexpr const char* TextBadCredentials = "invalid user or password";
constexpr const char* TextLoginRefused = "login refused by the front";
constexpr const char* TextNotLoggedIn = "not logged in";
constexpr const char* TextInstrumentNotFound = "instrument not found";

} // namespace mdfront
