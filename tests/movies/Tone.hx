import flash.Lib;
import flash.external.ExternalInterface;
import flash.media.Sound;

/** The test tone, written at build time by make_tone.py. */
@:sound("tone.wav")
class ToneSound extends Sound {}

/**
 * Test movie for the sound test: plays the embedded tone in a loop from its first frame,
 * says so with the command "tone_playing", and answers the host's close request with
 * "quit", as a game does when the player closes its window.
 */
class Tone {
	static function main() {
		for (name in ["PlayerLoadComplete", "LevelLoadComplete", "HSReadComplete", "ConfigDataReadComplete",
			"SwitchFullscreenMarker", "CloseRequested", "notifyGame"])
			register(name);
		new ToneSound().play(0, 9999);
		Lib.fscommand("tone_playing", "");
	}

	static function register(name:String) {
		ExternalInterface.addCallback(name, function(arg:String) {
			if (name == "CloseRequested")
				Lib.fscommand("quit", "");
		});
	}
}
