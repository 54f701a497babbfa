// simserver: a stand-in for the alpha and omega servers, for tests and the demo.
#include <cstdio>
#include <string>

#include "server.h"

int main(int argc, char **argv)
{
    simserver::Options options;
    std::string error;
    if (!simserver::ParseOptions(argc, argv, options, error)) {
        fprintf(stderr, "simserver: %s\n%s", error.c_str(), simserver::kUsage);
        return 2;
    }
    return simserver::Serve(options);
}
