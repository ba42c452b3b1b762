// The sixteen exported entry points.
