// One Windows 9x component of the ASPI layer package. On this platform the
// machine's ports are reached by the ASPI layer itself, so a component is
// what Windows would find of it: a binary of the build (which carries the
// build's version information) that names itself.
extern "C" {
extern const char HarrowComponentName[];
const char HarrowComponentName[] = HARROW_COMPONENT;
}
