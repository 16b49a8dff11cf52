#pragma once
// A recording view header for the broken tree.
