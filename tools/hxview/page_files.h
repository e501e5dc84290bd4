// hxview page files: the page, its script and style, bundled into the program when it is built.
#pragma once

#include <cstddef>
#include <vector>

namespace hxview {

struct PageFile {
    const char* path; // "/index.html"
    const char* type; // its content type
    const unsigned char* data;
    std::size_t size;
};

// Defined in the source the build writes from the files in page/.
const std::vector<PageFile>& pageFiles();

} // namespace hxview
