// The camera's properties by the names the command line uses, read and written
// in percent through the plug-in's property functions.
#pragma once

#include <string>

#include "VORKDirectShowGrabber.h"

enum class PropertyKind { ProcAmp, CameraControl, Gain, Offset, Backlight };

struct NamedProperty {
    const char* name;
    PropertyKind kind;
    LONG property;  // the platform's enumeration value, for ProcAmp and CameraControl
};

// Null for a name the program does not know.
const NamedProperty* FindProperty(const std::string& name);
const NamedProperty* PropertiesBegin();
const NamedProperty* PropertiesEnd();

struct PropertyValue {
    int percent = 0;
    bool automatic = false;
    bool enabled = true;  // backlight compensation only
};

// 0 or the plug-in's result.
int ReadProperty(CVORKDirectShowGrabber& g, const NamedProperty& p, PropertyValue& value);
int WriteProperty(CVORKDirectShowGrabber& g, const NamedProperty& p, const PropertyValue& value);

// The control's step in percent of its range, as the device reports it.
int ReadStep(CVORKDirectShowGrabber& g, const NamedProperty& p, double& percent);

// "60% manual", "40% auto", "off".
std::string Describe(const NamedProperty& p, const PropertyValue& value);
