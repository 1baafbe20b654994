// The daemon's root object: owns the log object, the configuration and the
// library catalogue, and applies the configuration to them and to the
// command server's settings.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bmod/unzipd/daemon/config.h"
#include "bmod/unzipd/daemon/uzd_error.h"

namespace ruva {

class ZipList;

// ServerConfig::flags: no UDP socket, broadcasts are not answered.
inline constexpr uint16_t kServerNoBroadcasts = 0x01;

inline constexpr int kDefaultWellKnownPort = 9229;
inline constexpr int kDefaultParentWaitTime = 120;  // for a configured 0
inline constexpr int kDefaultMaxSessions = 256;

// What the command server takes from the configuration.
struct ServerConfig {
    struct IpMask {
        bool allow = true;
        std::string mask;
    };
    int port = kDefaultWellKnownPort;
    uint16_t flags = 0;
    std::vector<IpMask> ipMasks;  // in file order
    std::string serverComment;
    int parentWaitTime = 30;  // seconds
    int maxSessions = kDefaultMaxSessions;  // live session processes at most
};

class UzdMain {
public:
    UzdMain();
    ~UzdMain();  // closes logFile
    UzdMain(const UzdMain&) = delete;
    UzdMain& operator=(const UzdMain&) = delete;

    // Pushes the configuration into the catalogue, its scanner, the log and
    // serverConfig. flags is the option byte: its fold, verbose and debug
    // bits are ORed with the configured ones. 0 when the catalogue is
    // missing, the user switch fails, WellKnownPort is above 65535, an
    // IPMask value is "error" or the pools cannot be made.
    int applyConfig(uint16_t flags);
    // Chooses the log file (the configured name, else home/tmp/ruvadaemon.log)
    // and, when none is open yet, rotates it, opens it for appending and
    // makes descriptors 1 and 2 write into it. 1 when a log file is open.
    int setLogPath(const char* configured);
    // Rotates the named log when it has reached MaxLogSize MiB (from the
    // configuration; 0 never), keeping MaxLogBackups copies. 1 unless a
    // rename failed or the name is too long to rotate.
    int rotateLog(const char* name);
    // folder (through the last '/', else the last '\'), base, extension (from
    // the base's last '.', dot included; "" without one). 0 when the base
    // is longer than kLogBaseMax or the extension than kLogExtMax.
    static int splitPath(const char* path, std::string* folder, std::string* base, std::string* ext);
    // Adds home/libraries as a non-recursive directory when it is readable.
    // 1 when added.
    int setDefaultLibPath();
    // Switches to the configured User and Group. 0 on any failure: the
    // daemon must not run on as root when told otherwise.
    int changeUser();

    std::unique_ptr<ZipList> zipList;
    std::unique_ptr<Config> config;
    std::unique_ptr<UzdError> error;
    ServerConfig serverConfig;

    int logLevel = kLogInfo;
    int logFile = -1;  // the open log, O_APPEND; descriptors 1 and 2 copy it
    std::string logFileName;
    std::string cacheFileName;
    std::string centralServer;
    std::string userName;
    std::string groupName;
    std::string libStatusFromPath;
    std::string libStatusToPath;
    int ruvaScanCount = 0;
    long maxLogSize = 0;
    long maxLogBackups = 0;
    int enforceIPMask = 1;
    std::string AdminMailID;
    std::string userHome;

private:
    struct ApplyState;
    // The User's home directory, else HOME, without one trailing '/'; ""
    // when neither is known.
    std::string homeDir() const;
    int applyEntry(const ConfigEntry& entry, ApplyState* st);
    int applyCatalogueEntry(const ConfigEntry& entry, ApplyState* st);
    int applyIpMasks(const ConfigEntry& entry);
    int addDirectoryValue(const ConfigEntry& entry, bool libraryPath);
    void applyLibStatusPath(const ConfigEntry& entry);
    int createLogFile(const char* configured);
};

inline constexpr size_t kLogBaseMax = 99;
inline constexpr size_t kLogExtMax = 9;

}  // namespace ruva
