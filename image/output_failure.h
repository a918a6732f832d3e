// Why an image file could not be created: what the window and the command line both say.
#pragma once

#include <string>

namespace tavrine {

// Why the image file output could not be created, as far as the path and its folder tell: a
// folder, links in a loop or leading into a folder that does not exist, a file that may not be
// written, a folder that takes no new file (with the system's reason when it gives one).
std::string WhyOutputNotCreated(const std::string& output);

}  // namespace tavrine
