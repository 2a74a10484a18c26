#pragma once

// The test engine's pseudo-random sequence: values 0 to 0x7FFF, the same
// sequence for the same seed. Each test thread draws from a sequence of its
// own: threads sharing one would take each other's values, so a write-read
// thread's read pass would not visit the blocks its write pass wrote, and a
// good drive would fail its data compare.
namespace TestRandom {

constexpr int kRandMaximum = 0x7FFF;

// The system's random seed, or the time when that is 0.
unsigned int ChooseSeed();

class Sequence {
public:
    void Seed(unsigned int seed) { m_State = seed; }
    int Next();

private:
    unsigned int m_State = 1;
};

}  // namespace TestRandom
