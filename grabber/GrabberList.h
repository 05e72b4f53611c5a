// g_Grabbers: the grabbers of this module whose board is open, in the order in
// which they opened it. The list does not own them.
#pragma once

#include <vector>

class CVORKDirectShowGrabber;

extern std::vector<CVORKDirectShowGrabber*> g_Grabbers;
