#include "core/tests/TestRandom.h"

#include "core/system/CComputerSystem.h"

#include <ctime>

namespace TestRandom {

unsigned int ChooseSeed()
{
    const long seed = CComputerSystem::Instance()->GetRandSeed();
    return seed != 0 ? static_cast<unsigned int>(seed) : static_cast<unsigned int>(std::time(nullptr));
}

int Sequence::Next()
{
    // The classic C runtime generator, so a seed gives the sequence users know.
    m_State = m_State * 214013u + 2531011u;
    return static_cast<int>((m_State >> 16) & kRandMaximum);
}

}  // namespace TestRandom
