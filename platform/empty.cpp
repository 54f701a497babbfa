// Keeps the library target valid while it has no part of its own yet.
