#pragma once
// The test whether another copy of the program is running.

namespace sequora::platform {

/// True when another copy of this program already runs for the same user.
///
/// The first call takes a per-user lock file (in the user's runtime folder, named after
/// the application) and holds it until the process ends; a lock left behind by a copy
/// that crashed is recognised as stale and taken over. Later calls in the same process
/// answer from the lock already held. When the lock cannot be made at all (no writable
/// folder) the answer is false: a broken lock must not keep the player from starting.
bool anotherInstanceRunning();

} // namespace sequora::platform
