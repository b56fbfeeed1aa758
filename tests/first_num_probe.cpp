// Runs FirstNum alone with the count given as the one argument, on a thread
// whose stack is the ordinary 8 MiB, so that a count far deeper than that
// stack shows whether the recursion costs stack per number. With
// --optimized instead, says by its status whether the compiler optimised it
// (0) or not (1): only an optimising build turns the recursion into a jump.

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <pthread.h>

void FirstNum(int n);

namespace {

void* CountDown(void* count)
{
    FirstNum(*static_cast<int*>(count));
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) == "--optimized") {
#ifdef __OPTIMIZE__
        return 0;
#else
        return 1;
#endif
    }
    if (argc != 2) {
        std::fputs("usage: first_num_probe COUNT\n", stderr);
        return 2;
    }
    int count = static_cast<int>(std::strtol(argv[1], nullptr, 10));
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 8 * 1024 * 1024);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, CountDown, &count) != 0) {
        return 2;
    }
    pthread_join(thread, nullptr);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
