#pragma once
// An engine header: the engine may include it by its folder or by its bare name.
int Engine();
