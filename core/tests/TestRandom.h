#pragma once

// The test engine's process-wide pseudo-random sequence: values 0 to 0x7FFF,
// the same sequence for the same seed, shared by every test thread.
namespace TestRandom {

constexpr int RAND_MAXIMUM = 0x7FFF;

void Seed(unsigned int seed);
int Next();
// Seeds from the system's random seed, or from the time when that is 0.
void Reseed();

}  // namespace TestRandom
