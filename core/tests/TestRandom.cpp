#include "core/tests/TestRandom.h"

#include "core/system/CComputerSystem.h"

#include <ctime>
#include <mutex>

namespace {

std::mutex g_Lock;
unsigned int g_State = 1;

}  // namespace

namespace TestRandom {

void Seed(unsigned int seed)
{
    const std::lock_guard<std::mutex> hold(g_Lock);
    g_State = seed;
}

int Next()
{
    // The classic C runtime generator, so a seed gives the sequence users know.
    const std::lock_guard<std::mutex> hold(g_Lock);
    g_State = g_State * 214013u + 2531011u;
    return static_cast<int>((g_State >> 16) & RAND_MAXIMUM);
}

void Reseed()
{
    const long seed = CComputerSystem::Instance()->GetRandSeed();
    Seed(seed != 0 ? static_cast<unsigned int>(seed) : static_cast<unsigned int>(std::time(nullptr)));
}

}  // namespace TestRandom
