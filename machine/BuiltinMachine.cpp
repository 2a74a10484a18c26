#include "machine/BuiltinMachine.h"

namespace harrow::machine {

// Durations are short enough to watch a self test or a format finish.
const std::string& BuiltinMachineText()
{
    static const std::string text = R"({
  "name": "builtin",
  "ports": [
    {
      "port": 0, "driver": "aic78xx", "deviceName": "AIC-7899", "initiatorId": 7,
      "units": [
        { "target": 0, "type": "disk", "vendor": "KESTREL", "product": "KX18LVD", "revision": "K100",
          "serial": "3CK0A1B2", "blocks": 35566480, "dst": true,
          "durations": { "shortSelfTest": 20, "longSelfTest": 90, "format": 60 } },
        { "target": 1, "type": "disk", "vendor": "KESTREL", "product": "KX09LVD", "revision": "J210",
          "serial": "3BJ0C3D4", "blocks": 17783240, "dst": false,
          "durations": { "format": 45 } },
        { "target": 4, "type": "tape", "serial": "TP000042" },
        { "target": 5, "type": "changer", "serial": "CH000007" }
      ]
    },
    {
      "port": 1, "driver": "symmpi", "deviceName": "LSI53C1030", "initiatorId": 7, "buses": 2,
      "units": [
        { "bus": 0, "target": 2, "type": "disk", "vendor": "MERIDIAN", "product": "MD3600LW", "revision": "0207",
          "serial": "MD7F3310", "blocks": 71132960, "durations": { "format": 60 } },
        { "bus": 1, "target": 3, "type": "cdrom", "serial": "CD000311" }
      ]
    },
    {
      "port": 2, "driver": "atapi", "deviceName": "Primary IDE",
      "units": [
        { "target": 0, "type": "cdrom", "product": "SIM ATAPI CDROM", "serial": "AT000001" }
      ]
    }
  ]
})";
    return text;
}

}  // namespace harrow::machine
