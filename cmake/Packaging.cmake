# What scripts/package reads from a configured tree: the version the .deb is given.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/package/version CONTENT "${PROJECT_VERSION}\n")
