// The workstation: its computer name and the user's name, and the calendar in local time and
// in UTC.
#pragma once

#include <ctime>
#include <string>

namespace platform {

// The computer's name ("" when unknown).
std::string computerName();

// The name of the user the process runs as ("" when unknown): the account's name, else $USER or
// $LOGNAME.
std::string userName();

// The calendar time of `when` in the local time zone and in UTC. False when it cannot be
// represented.
bool localTime(std::time_t when, std::tm& out);
bool utcTime(std::time_t when, std::tm& out);

// The seconds since the epoch of a calendar time in UTC (the inverse of utcTime; fields out of
// range are normalised).
std::time_t fromUtc(std::tm tm);

} // namespace platform
