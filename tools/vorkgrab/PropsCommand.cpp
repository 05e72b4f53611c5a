// props: every property the program knows, in percent of the camera's range.
#include <cstdio>

#include "Commands.h"
#include "Errors.h"
#include "Properties.h"

int PropsCommand(CVORKDirectShowGrabber& g) {
    for (const NamedProperty* p = PropertiesBegin(); p != PropertiesEnd(); ++p) {
        PropertyValue value;
        if (ReadProperty(g, *p, value) == 0) std::printf("%-13s %s\n", p->name, Describe(*p, value).c_str());
        else std::printf("%-13s not supported\n", p->name);
    }
    return kSuccess;
}
