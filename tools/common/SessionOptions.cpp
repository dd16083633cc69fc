#include "SessionOptions.h"

#include "MdApi.h"

#include <fstream>

namespace mdtools {

namespace {

// The first line of a file, without its line end ("\n" or "\r\n").
bool ReadFirstLine(const std::string& path, std::string& line)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::getline(in, line);
    if (in.bad())
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

} // namespace

bool ResolvePassword(SessionOptions& o, const char* environment, std::string& error)
{
    if (o.password_given && !o.password_file.empty()) {
        error = "give --password or --password-file, not both";
        return false;
    }
    if (!o.password_file.empty()) {
        if (!ReadFirstLine(o.password_file, o.password)) {
            error = "cannot read the password file '" + o.password_file + "'";
            return false;
        }
    } else if (!o.password_given && environment) {
        o.password = environment;
    }
    // A longer one would be cut short in the login request and refused.
    const std::size_t room = sizeof(CThostFtdcReqUserLoginField::Password) - 1;
    if (o.password.size() > room) {
        error = "the password is longer than " + std::to_string(room) + " characters";
        return false;
    }
    return true;
}

} // namespace mdtools
