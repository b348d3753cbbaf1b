import flash.external.ExternalInterface;
import flash.net.URLRequest;

/**
 * The probe movie with two more script lines, for the tests of the page's boundaries:
 *   navigate URL TARGET     navigateToURL, as a movie's link does
 *   js CODE                 runs CODE in the player page (ExternalInterface.call of a
 *                           function expression) and reports "probe_js" with its result
 *   sleep MS                pauses the script
 * The first two report "probe_step" with the line's number when they have run.
 */
class Navigator extends Probe {
	static function main() {
		flash.Lib.current.addChild(new Navigator());
	}

	override function step(line:String) {
		var f = line.split("\t");
		switch (f[0]) {
			case "navigate" if (f.length >= 3):
				try {
					flash.Lib.getURL(new URLRequest(f[1]), f[2]);
				} catch (e:Dynamic) {
					send("probe_error", "navigate: " + Std.string(e));
				}
				send("probe_step", "" + next);
			case "js" if (f.length >= 2):
				var result:Dynamic = null;
				try {
					result = ExternalInterface.call("function () { " + f.slice(1).join("\t") + " }");
				} catch (e:Dynamic) {
					result = "error: " + Std.string(e);
				}
				send("probe_js", Std.string(result));
				send("probe_step", "" + next);
			case "sleep" if (f.length >= 2 && Std.parseInt(f[1]) != null):
				waitFor = "sleep";
				waitFrom = 0;
				calls.set("sleep", 0);
				haxe.Timer.delay(function() {
					calls.set("sleep", 1);
					resumeAfter("sleep");
				}, Std.parseInt(f[1]));
			default:
				super.step(line);
		}
	}
}
