import os
import sys

from hypothesis import HealthCheck, settings

# The test-only panic module is built next to, never into, the installed package.
# TAVRO_PANIC_MODULE_DIR names its folder, or a build tree that keeps it in panic_module/.
_panic_dir = os.environ.get("TAVRO_PANIC_MODULE_DIR")
if _panic_dir:
    _nested = os.path.join(_panic_dir, "panic_module")
    sys.path.insert(0, _nested if os.path.isdir(_nested) else _panic_dir)

# Timing is not what these tests check: a busy machine must not fail them.
for name, examples in [("default", 100), ("sanitize", 25)]:
    settings.register_profile(
        name, max_examples=examples, deadline=None, suppress_health_check=[HealthCheck.too_slow]
    )
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))
