// GoogleTest main for tests that open sockets: they run only inside a private network namespace.
#include <gtest/gtest.h>

#include <cstdio>

#include "private_network.h"

int main(int argc, char** argv)
{
    std::string why;
    if (!hx_test::enterPrivateNetwork(why)) {
        std::fprintf(stderr,
                     "refusing to run: these tests open sockets and need a private network namespace (%s).\n"
                     "Run them as root, or where unprivileged user namespaces are allowed, or through "
                     "scripts/in-netns.\n",
                     why.c_str());
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
