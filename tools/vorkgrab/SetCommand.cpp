// set: every assignment is checked, and each property found on the camera,
// before any is written; then each is written and read back.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Commands.h"
#include "Errors.h"
#include "Properties.h"
#include "Text.h"

namespace {

struct Assignment {
    std::string text;
    const NamedProperty* property = nullptr;
    PropertyValue value;
    bool modeGiven = false;
};

Assignment Parse(const std::string& text) {
    Assignment a;
    a.text = text;
    const size_t eq = text.find('=');
    if (eq == std::string::npos) throw UsageError{"set: '" + Printable(text) + "' is not NAME=PERCENT"};
    const std::string name = text.substr(0, eq);
    std::string value = text.substr(eq + 1);
    a.property = FindProperty(name);
    if (!a.property) throw UsageError{"set: unknown property '" + Printable(name) + "'"};
    if (const size_t colon = value.find(':'); colon != std::string::npos) {
        const std::string mode = value.substr(colon + 1);
        if (mode != "auto" && mode != "manual")
            throw UsageError{"set: '" + Printable(text) + "': the mode is auto or manual"};
        if (a.property->kind == PropertyKind::Gain || a.property->kind == PropertyKind::Offset)
            throw UsageError{"set: '" + Printable(text) + "': " + name + " has no auto mode"};
        a.value.automatic = mode == "auto";
        a.modeGiven = true;
        value = value.substr(0, colon);
    }
    if (a.property->kind == PropertyKind::Backlight && value == "off") {
        // Switched off, the control has no mode to keep.
        if (a.modeGiven) throw UsageError{"set: '" + Printable(text) + "': backlight off takes no mode"};
        a.value.enabled = false;
        return a;
    }
    long long percent = 0;
    if (!ParseWhole(value, 0, 100, percent))
        throw UsageError{"set: '" + Printable(text) + "': the percentage must be a whole number from 0 to 100"};
    a.value.percent = static_cast<int>(percent);
    return a;
}

// What the camera now holds, for a message about a setting it did not take.
std::string Now(CVORKDirectShowGrabber& g, const NamedProperty& p) {
    PropertyValue now;
    if (ReadProperty(g, p, now) != 0) return "it cannot be read back";
    return std::string(p.name) + " is " + Describe(p, now);
}

// A percentage goes through the device's own units and comes back as the
// nearest of its steps (exposure often has ten), give or take one for rounding.
bool Applied(const Assignment& a, const PropertyValue& now, double step) {
    if (!a.value.enabled) return !now.enabled;
    if (std::abs(now.percent - a.value.percent) > step / 2 + 1) return false;
    return !a.modeGiven || now.automatic == a.value.automatic;
}

// What a property holds after a write it took; a percentage the camera moved
// to its nearest step says so.
void ReportTaken(const Assignment& a, const PropertyValue& now, bool report) {
    const NamedProperty& p = *a.property;
    const bool moved = a.value.enabled && now.percent != a.value.percent;
    const std::string asked = std::to_string(a.value.percent) + "% \u2192 ";
    if (report && moved)
        std::printf("%-13s %s%s, the camera's nearest step\n", p.name, asked.c_str(), Describe(p, now).c_str());
    else if (report)
        std::printf("%-13s %s\n", p.name, Describe(p, now).c_str());
    else if (moved)
        std::fprintf(stderr, "vorkgrab: %s %s%d%%, the camera's nearest step\n", p.name, asked.c_str(), now.percent);
}

}  // namespace

int SetCommand(CVORKDirectShowGrabber& g, const Options& o) { return ApplySettings(g, o.assignments, true); }

void CheckSettings(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) Parse(text);
}

int ApplySettings(CVORKDirectShowGrabber& g, const std::vector<std::string>& texts, bool report) {
    std::vector<Assignment> assignments;
    for (const std::string& text : texts) assignments.push_back(Parse(text));
    for (const Assignment& a : assignments) {
        PropertyValue now;
        if (ReadProperty(g, *a.property, now) != 0)
            throw Failure{"the camera has no " + std::string(a.property->name) + " control; nothing was set"};
    }
    int failures = 0;
    for (const Assignment& a : assignments) {
        const int result = WriteProperty(g, *a.property, a.value);
        PropertyValue now;
        const int readBack = ReadProperty(g, *a.property, now);
        double step = 0;
        if (ReadStep(g, *a.property, step) != 0) step = 0;
        if (result != 0) {
            std::fprintf(stderr, "vorkgrab: %s was not set: the camera refused it%s (result %d); %s\n",
                         Printable(a.text).c_str(),
                         a.modeGiven && a.value.automatic ? " (it may have no auto mode)" : "", result,
                         Now(g, *a.property).c_str());
            ++failures;
        } else if (readBack != 0 || !Applied(a, now, step)) {
            std::fprintf(stderr, "vorkgrab: %s was not applied; %s\n", Printable(a.text).c_str(),
                         Now(g, *a.property).c_str());
            ++failures;
        } else {
            ReportTaken(a, now, report);
        }
    }
    if (failures)
        throw Failure{std::to_string(failures) + " propert" + (failures == 1 ? "y was" : "ies were") + " not set"};
    return kSuccess;
}
