// The identifiers of the QuorLib type library, fixed once and compiled unchanged into
// every build. Registered clients depend on them: never change them.
//   library QuorLib    {D628F04D-0AF6-4971-B2E1-10ECA673A707}
//   interface IPulsyn  {3EEA728F-63D9-4C91-AFE7-49375FAFAACD}
//   class Pulsyn       {FD7AD882-6D86-41B8-BADE-73487A8C71A4}
//   ChannelModes       {BF2AC4E6-8D10-49B3-B69C-C4D131FA2D8A}
//   ChannelShapes      {18E66CEC-75F1-4C18-872A-0D66A4D73543}
#pragma once

namespace quor {

constexpr const char* kPulsynProgId = "QuorLib.Pulsyn";
// The interface's identifier as text, for the native build's error record (on Windows the
// declarations generated from QuorLib.idl carry IID_IPulsyn itself).
constexpr const char* kIPulsynIdText = "{3EEA728F-63D9-4C91-AFE7-49375FAFAACD}";

}  // namespace quor
