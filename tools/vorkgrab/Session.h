// What every command shares: the plug-in loaded as the framework's host loads
// it, the framework's reports, the message pump, the channel's INI settings, and
// what the camera delivers compared with what was asked.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "Options.h"
#include "VORKDirectShowGrabber.h"

// ---- What the framework reports while the program runs -------------------------
struct Reports {
    bool verbose = false;
    std::atomic<int> deviceLost{0};
    std::atomic<int> errorEvents{0};
};
extern Reports g_reports;
void ListenToFramework(bool verbose);
struct RecentEvent {
    int code;
    std::string text;  // "event N: " and the text's lines, each printable
    bool firstRun;     // the fallback to the first camera when none is configured
};
// The latest error events, newest last (at most eight).
std::vector<RecentEvent> RecentEvents();

// Media events are handled while the thread that opened the board pumps.
void PumpMessages();

class Plugin {
public:
    explicit Plugin(const Options& o);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    CVORKDirectShowGrabber& grabber() { return *grabber_; }
    // Closes the board and opens it again, as a host does to apply a new
    // configuration; throws Failure when no grabber comes back.
    void Reopen(const Options& o);
    // The grabber destroyed, as while waiting for a pulled camera; grabber()
    // may not be called until Open.
    void Close();
    void Open(const Options& o);
    bool IsOpen() const { return grabber_ != nullptr; }
    // "FriendlyNamePart=..., DevicePath=..." of the INI file when the camera it
    // names was not found at the last Open and the plug-in took another; empty
    // when it was found or none is named.
    const std::string& MissingCamera() const { return missingCamera_; }

private:
    struct IniKey {
        const wchar_t* key;
        bool existed = false;
        std::wstring value;
    };
    // The INI file's camera, as it was before an Open.
    struct CameraKeys {
        IniKey keys[2] = {{L"FriendlyNamePart", false, L""}, {L"DevicePath", false, L""}};
        static CameraKeys Of(const Options& o);
    };
    void NoteMissingCamera(const Options& o, const CameraKeys& before);
    std::string missingCamera_;
    HMODULE module_ = nullptr;
    bool (*initDll_)(const wchar_t*, int) = nullptr;
    bool (*deInitDll_)() = nullptr;
    CVORKDirectShowGrabber* grabber_ = nullptr;
    bool initialized_ = false;  // InitDll succeeded and DeInitDll is owed
};

// ---- The channel's settings in the INI file --------------------------------------
std::wstring ChannelSection(const Options& o);

// --ini as the user gave it.
inline const std::wstring& IniName(const Options& o) { return o.iniName.empty() ? o.ini : o.iniName; }
// A key's raw value; false when the key is absent.
bool ReadIniValue(const Options& o, const std::wstring& section, const wchar_t* key, std::wstring& value);

// Checks every numeric key of the channel section that the grabber reads; throws
// Failure naming the file, section, key and value of the first bad one.
void CheckChannelSettings(const Options& o);

// Integer settings after CheckChannelSettings: the value, or the default when absent.
int ChannelInt(const Options& o, const wchar_t* key, int defaultValue);

// The run's colour mode and size, handed to the framework for this process only
// (it applies them when the board opens); the INI file is not written.
void HandToFramework(const Options& o);

// Keys the program writes into the user's INI file before the board opens; put
// back as they were unless Keep() is called.
class IniEdit {
public:
    explicit IniEdit(const Options& o) : o_(o) {}
    ~IniEdit();
    IniEdit(const IniEdit&) = delete;
    IniEdit& operator=(const IniEdit&) = delete;
    void Write(const wchar_t* key, int value);
    void Write(const std::wstring& section, const wchar_t* key, const std::wstring& value);
    void Remove(const std::wstring& section, const wchar_t* key);
    void Keep();

private:
    struct Change {
        std::wstring section;
        std::wstring key;
        bool existed;
        std::wstring old;
        bool sectionExisted;
        std::optional<std::wstring> value;  // none: the key goes
    };
    const Options& o_;
    std::vector<Change> changes_;
};

// ---- What the camera delivers ------------------------------------------------------
const char* ModeName(int mode);
const char* SubtypeName(const GUID& subtype);
int ModeOfSubtype(const GUID& subtype);
// "640x480 RGB24 30, 320x240 RGB24 30, ..." or "nothing the grabber could read".
std::string OfferedFormats(CVORKDirectShowGrabber& g);

// The rate read back against --fps `asked`; throws Failure saying what the
// camera runs at and offers when they differ. `written` is the result of
// writing the rate, or 0 when the board opened with it.
void CheckRate(CVORKDirectShowGrabber& g, double asked, int written, const char* notHeld);

// The connected format; throws Failure saying what the camera offers when the
// graph could not be connected, or when a colour mode or size that the command
// line or the INI file asked for was not applied.
VORKDSFrameFormat CheckDelivery(CVORKDirectShowGrabber& g, const Options& o);
