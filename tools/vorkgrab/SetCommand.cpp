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

bool Applied(const Assignment& a, const PropertyValue& now) {
    if (!a.value.enabled) return !now.enabled;
    // A percentage goes through the device's own units and may come back one off.
    if (std::abs(now.percent - a.value.percent) > 1) return false;
    return !a.modeGiven || now.automatic == a.value.automatic;
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
        if (result != 0) {
            std::fprintf(stderr, "vorkgrab: %s was not set: the camera refused it%s (result %d); %s\n",
                         Printable(a.text).c_str(),
                         a.modeGiven && a.value.automatic ? " (it may have no auto mode)" : "", result,
                         Now(g, *a.property).c_str());
            ++failures;
        } else if (readBack != 0 || !Applied(a, now)) {
            std::fprintf(stderr, "vorkgrab: %s was not applied; %s\n", Printable(a.text).c_str(),
                         Now(g, *a.property).c_str());
            ++failures;
        } else if (report) {
            std::printf("%-13s %s\n", a.property->name, Describe(*a.property, now).c_str());
        }
    }
    if (failures)
        throw Failure{std::to_string(failures) + " propert" + (failures == 1 ? "y was" : "ies were") + " not set"};
    return kSuccess;
}
