#include "ui/step_inputs.h"

#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "state/setup_state.h"
#include "ui/product_launch.h"
#include "worker/component_status.h"

ButtonInputs GatherStepInputs() {
  ButtonInputs inputs{};
  inputs.s0 = ComponentStatusOf(kDotNet);
  inputs.s1 = ComponentStatusOf(kLocalDb);
  inputs.s2 = ComponentStatusOf(kProduct);
  inputs.dotNetRelease = ReadDotNetRelease();
  inputs.localDbMajor = MaxLocalDbMajorVersion();
  inputs.firstPieceNamed = FirstPieceName() != nullptr;
  return inputs;
}
