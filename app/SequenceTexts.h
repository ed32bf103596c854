// The test run's texts as the window and the runs use them; their item
// numbers are in persist/TextItems.h.
#pragma once

#include <string>
#include <vector>

#include "persist/TextItems.h"
#include "sequence/Profile.h"

// The parts of an item that holds a list, in the language in force.
std::vector<std::string> SequenceTextParts(int item);
// The texts a profile's errors are written with: in the language in force, or
// in English for remote clients.
SeqErrorTexts SequenceErrorTexts(bool english);
// What ended a run, in the language in force.
std::string SequenceCauseText(int cause);
