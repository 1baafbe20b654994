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

class NetworkServer;
class PipeHandler;
class ZipList;
struct PipeHandlerEntry;

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

// The watcher's intervals in milliseconds; tests shorten them.
struct WatchTimings {
    long cycleMs = 30000;        // pause between checks until a report is sent
    long afterSignalMs = 60000;  // pause once the parent was signalled
    long stableMs = 15000;       // wait before the changes are checked again and sent
    long stepMs = 1000;          // one step of every pause
    long pollCycleMs = 60000;    // the poll child's cycle
    long pollStableMs = 10000;   // a new file must stay unchanged this long
};

// How the watcher signals its parent; tests record instead.
using WatchSignalSink = int (*)(void* context, pid_t pid, int sig);

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
    // IPMask value is "error", or the pools' first heaps would pass half
    // the machine's physical memory or cannot be made.
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

    // Command server 0x10 for verbose and 0x08 for debug; every library
    // takes the fold, verbose and debug bits and keeps its writable and
    // index-builder bits. Bits are only set, never cleared.
    void forwardFlags(uint16_t f);

    // The catalogue refresh of the parent (catalogue_refresh.cpp).
    // Drops or reopens every library whose file is gone or changed; the
    // number refreshed.
    int checkChangedZipFiles();
    // checkChangedZipFiles, then a scan that opens every new library. -1 when
    // the scan failed.
    int rescanFilesystem();
    // Applies the scanner's lines after its SIGUSR2. 0 when the structure
    // file could not be read again (the caller rescans), else 1.
    int updateCache();
    // One line each. A library is named by its hash id, or by its path when
    // it holds no slot; mlID kNoMlNode leaves it on no node. 1 when applied.
    int addNewFileToCache(const char* name, int mlID);
    int updateFileInCache(const char* name, int hashID, int mlID);
    int removeFileFromCache(const char* name, int hashID);
    // Reads the structure file again and deletes the libraries whose folder
    // lost its node. 0, with the old tree kept, when the file gives no record.
    int updateMlNodesInCache(const char* name);
    // Applies one pipe line; 'A', 'C', 'R', 'F' or 0 for an invalid line,
    // -1 when an F line failed.
    int applyPipeLine(const char* line, int counts[3]);
    // Remembers the structure file's time as the scanner compares it.
    void rememberStructureTime();

    // The watcher child (filesys_watch.cpp).
    // Pipe mode: the scanner as a PipeHandler child. 1 when it runs.
    int startFilesysCheckPipe();
    void stopFilesysCheckPipe();
    // Poll mode: a child that only asks for full rescans.
    int startFilesysCheckThread();
    void stopFilesysCheckThread();
    // The checks of a scanner cycle (run in the child): 1 when a change is
    // queued in the catalogue's change list.
    int checkFullFilesystemChanges();
    // Waits stableMs, drops what is still changing, writes the rest as
    // lines to out. 1 when a line was written.
    int writeDataToParent(int out);
    // The poll child's check: 1 on any change.
    int checkFilesystemChanges();
    // The scanner's process loop; its exit status.
    int filesysScanProcess(int out);
    int filesysPollProcess();
    // Sends sig to pid through the sink (kill without one).
    int signalPeer(pid_t pid, int sig);

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

    std::unique_ptr<NetworkServer> networkServer;
    std::unique_ptr<PipeHandler> ph;
    PipeHandlerEntry* pe = nullptr;  // the scanner's entry
    pid_t filesysPid = 0;  // the scanner child; 0 once reaped
    std::string pidfile;
    int* childCountP = nullptr;  // the shared session count
    time_t objectCreateTime = 0;
    time_t mlConfTime = 0;  // the structure file's time the scanner last saw
    WatchTimings timings;
    WatchSignalSink signalSink = nullptr;
    void* signalContext = nullptr;
    pid_t watchParent = 0;  // in the watcher child: the daemon

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

// The daemon's root object built from the configuration; null (after a
// log line) when a step fails. flags is the option byte.
std::unique_ptr<UzdMain> newUzdMain(const char* progName, const char* configName, uint16_t flags);

// Runs the command server and acts on its states until told to stop; then
// stops the scanner, removes the update mutex and the pid file,
// unregisters and deletes the main object (UZD). The exit status.
int runMainLoop();

// Splits "XX-FILE:|name|HASHID:|h|MLID:|m|": name (without the bars),
// hashID and mlID (-1 when absent). 0 when there is no name.
int parseFSstring(const char* line, std::string* name, int* hashID, int* mlID);

// The MLID of a library whose folder no node holds (a RecursiveDir or the
// AnnotationDb, say): the parent catalogues it without a node, as the full
// scan does.
inline constexpr int kNoMlNode = -1;

inline constexpr size_t kLogBaseMax = 99;
inline constexpr size_t kLogExtMax = 9;

}  // namespace ruva
