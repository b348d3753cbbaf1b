import flash.Lib;
import flash.display.Sprite;
import flash.display.StageScaleMode;
import flash.events.KeyboardEvent;
import flash.events.MouseEvent;
import flash.external.ExternalInterface;
import flash.text.TextField;
import flash.text.TextFormat;

/**
 * Test movie for the end-to-end tests. It acknowledges every call from the host with
 * the command "probe_ack" (callback name, ":" and the argument exactly as received),
 * reports keys and mouse buttons, and runs a small script that the test hands over
 * as the configuration text, starting with the line "#probe".
 *
 * Script lines, fields separated by TAB:
 *   send COMMAND [ARGUMENT]          fscommand with the unescaped argument
 *   wait CALLBACK                    pause until CALLBACK is called once more
 *   wait_count CALLBACK N            pause until CALLBACK has been called N times in all
 *   throw CALLBACK                   CALLBACK throws from now on instead of acknowledging
 *   ack_off CALLBACK / ack_on CALLBACK
 *   flood COUNT COMMAND [ARGUMENT]   the same command COUNT times in a row
 *   hang                             the page's own script runs forever from now on
 *   slow CALLBACK MS                 CALLBACK keeps the page busy for MS ms before it acknowledges
 * Lines starting with "#" are comments. Escapes in arguments: \n \r \t \\ \u{HEX}.
 * A line it does not understand is reported with "probe_error"; the end of the
 * script with "probe_done".
 *
 * The stage shows a solid square of MARKER pixels in each corner, each in its own
 * pure colour (see MARKERS), so that a screenshot tells where the whole stage is
 * and whether any of it is cut or covered. Nothing else on the stage uses these colours.
 *
 * Built with one of these defines it registers its functions late, as a movie with a
 * preloader does, and tells each registration with "probe_registered" NAME:
 *   -D probe_register_after=MS       all of them MS milliseconds after it started
 *   -D probe_register_per_frames=N   one every N frames, in the order of CALLBACKS
 *   -D probe_never_register=NAME     all but NAME (at once, as without a define)
 */
class Probe extends Sprite {
	static var CALLBACKS = [
		"PlayerLoadComplete", "LevelLoadComplete", "HSReadComplete", "ConfigDataReadComplete",
		"SwitchFullscreenMarker", "CloseRequested", "notifyGame"
	];
	static inline var LOG_LINES = 20;
	public static inline var MARKER = 40;
	/** Top-left, top-right, bottom-left, bottom-right. */
	public static var MARKERS = [0xFF0000, 0x00FF00, 0x0000FF, 0xFF00FF];

	var logField:TextField;
	var logLines:Array<String> = [];

	var calls = new Map<String, Int>();
	var throwing = new Map<String, Bool>();
	var silent = new Map<String, Bool>();
	var slow = new Map<String, Int>();

	var script:Array<String> = null;
	var next = 0;
	var waitFor:String = null;
	var waitFrom = 0;
	var waitCount = 0;
	var running = false;
	var finished = false;

	static function main() {
		Lib.current.stage.scaleMode = StageScaleMode.SHOW_ALL;
		Lib.current.addChild(new Probe());
	}

	function new() {
		super();
		registerCallbacks();
		buildScreen();
		watchInput();
		send("probe_hello", "");
		send("ReadConfigData", "");
	}

	function registerCallbacks() {
		var never = haxe.macro.Compiler.getDefine("probe_never_register");
		var names = [for (name in CALLBACKS) if (name != never) name];
		var after = haxe.macro.Compiler.getDefine("probe_register_after");
		var perFrames = haxe.macro.Compiler.getDefine("probe_register_per_frames");
		if (after != null) {
			haxe.Timer.delay(function() {
				for (name in names)
					registerLate(name);
			}, Std.parseInt(after));
		} else if (perFrames != null) {
			var every = Std.parseInt(perFrames);
			var frame = 0;
			var onFrame:Dynamic->Void = null;
			onFrame = function(_) {
				if (++frame % every != 0)
					return;
				registerLate(names.shift());
				if (names.length == 0)
					removeEventListener(flash.events.Event.ENTER_FRAME, onFrame);
			};
			addEventListener(flash.events.Event.ENTER_FRAME, onFrame);
		} else {
			for (name in names)
				register(name);
		}
	}

	function registerLate(name:String) {
		register(name);
		send("probe_registered", name);
	}

	function register(name:String) {
		calls.set(name, 0);
		var callback = Reflect.makeVarArgs(function(args:Array<Dynamic>):Dynamic return onCall(name, args));
		try {
			ExternalInterface.addCallback(name, callback);
		} catch (e:Dynamic) {
			log("cannot register " + name + ": " + Std.string(e));
		}
	}

	function onCall(name:String, args:Array<Dynamic>):Dynamic {
		var arg:String = Std.isOfType(args[0], String) ? args[0] : Std.string(args[0]);
		log("<- " + name + "(" + spelled(arg) + ")" + (args.length == 1 ? "" : " with " + args.length + " arguments"));
		calls.set(name, calls.get(name) + 1);
		if (throwing.exists(name)) {
			// The host sees the error first; the script goes on afterwards.
			haxe.Timer.delay(function() resumeAfter(name), 0);
			throw new flash.errors.Error("probe throws");
		}
		if (slow.exists(name)) {
			var until = Lib.getTimer() + slow.get(name);
			while (Lib.getTimer() < until) {}
		}
		if (!silent.exists(name))
			send("probe_ack", name + ":" + arg);
		if (name == "ConfigDataReadComplete" && script == null && StringTools.startsWith(arg, "#probe"))
			startScript(arg);
		else
			resumeAfter(name);
		return null;
	}

	function send(command:String, arg:String) {
		log("-> " + command + " " + spelled(arg));
		Lib.fscommand(command, arg);
	}

	// --- Script ------------------------------------------------------------------

	function startScript(text:String) {
		script = [];
		var lines = text.split("\n");
		for (i in 1...lines.length) {
			var line = lines[i];
			if (StringTools.endsWith(line, "\r"))
				line = line.substr(0, line.length - 1);
			if (line != "" && line.charAt(0) != "#")
				script.push(line);
		}
		log("script of " + script.length + " lines");
		run();
	}

	function resumeAfter(name:String) {
		if (waitFor == name && calls.get(name) > waitFrom && calls.get(name) >= waitCount) {
			waitFor = null;
			run();
		}
	}

	/** Runs lines until a wait or the end; calls arriving meanwhile only count. */
	function run() {
		if (running || script == null)
			return;
		running = true;
		while (waitFor == null && next < script.length)
			step(script[next++]);
		running = false;
		if (waitFor == null && !finished) {
			finished = true;
			send("probe_done", "");
		}
	}

	function step(line:String) {
		var f = line.split("\t");
		var rest = function(from:Int) return f.length > from ? unescape(f.slice(from).join("\t")) : "";
		switch (f[0]) {
			case "send" if (f.length >= 2):
				send(f[1], rest(2));
			case "wait" if (f.length >= 2):
				waitFor = f[1];
				waitFrom = calls.exists(f[1]) ? calls.get(f[1]) : 0;
				waitCount = 0;
			case "wait_count" if (f.length >= 3 && Std.parseInt(f[2]) != null):
				waitCount = Std.parseInt(f[2]);
				var sofar = calls.exists(f[1]) ? calls.get(f[1]) : 0;
				if (sofar < waitCount) {
					waitFor = f[1];
					waitFrom = sofar;
				}
			case "throw" if (f.length >= 2):
				throwing.set(f[1], true);
			case "ack_off" if (f.length >= 2):
				silent.set(f[1], true);
			case "ack_on" if (f.length >= 2):
				silent.remove(f[1]);
			case "flood" if (f.length >= 3 && Std.parseInt(f[1]) != null):
				var arg = rest(3);
				for (_ in 0...Std.parseInt(f[1]))
					Lib.fscommand(f[2], arg);
				log("-> " + f[2] + " x" + f[1]);
			case "slow" if (f.length >= 3 && Std.parseInt(f[2]) != null):
				slow.set(f[1], Std.parseInt(f[2]));
			case "hang":
				ExternalInterface.call("function(){for(;;){}}");
			default:
				send("probe_error", "bad line: " + line);
		}
	}

	static function unescape(s:String):String {
		var out = new StringBuf();
		var i = 0;
		while (i < s.length) {
			var c = s.charAt(i++);
			if (c != "\\" || i >= s.length) {
				out.add(c);
				continue;
			}
			var e = s.charAt(i++);
			switch (e) {
				case "n": out.add("\n");
				case "r": out.add("\r");
				case "t": out.add("\t");
				case "\\": out.add("\\");
				case "u" if (s.charAt(i) == "{" && s.indexOf("}", i) > i + 1):
					var close = s.indexOf("}", i);
					var code = Std.parseInt("0x" + s.substring(i + 1, close));
					if (code == null || code > 0x10FFFF) {
						out.add("\\u");
					} else {
						out.add(String.fromCharCode(code));
						i = close + 1;
					}
				default:
					out.add("\\" + e);
			}
		}
		return out.toString();
	}

	// --- Input -------------------------------------------------------------------

	function watchInput() {
		var stage = Lib.current.stage;
		stage.addEventListener(KeyboardEvent.KEY_DOWN, function(e:KeyboardEvent) send("probe_key", "down:" + e.keyCode));
		stage.addEventListener(KeyboardEvent.KEY_UP, function(e:KeyboardEvent) send("probe_key", "up:" + e.keyCode));
		stage.addEventListener(MouseEvent.MOUSE_DOWN, function(_) {
			stage.focus = stage;
			send("probe_mouse", "leftdown");
		});
		stage.addEventListener(MouseEvent.RIGHT_MOUSE_DOWN, function(_) send("probe_mouse", "rightdown"));
		stage.addEventListener(MouseEvent.RIGHT_MOUSE_UP, function(_) send("probe_mouse", "rightup"));
		stage.focus = stage;
	}

	// --- Screen ------------------------------------------------------------------

	function buildScreen() {
		graphics.beginFill(0x0A0A0A);
		graphics.drawRect(0, 0, 800, 600);
		graphics.endFill();
		var corners = [[0, 0], [800 - MARKER, 0], [0, 600 - MARKER], [800 - MARKER, 600 - MARKER]];
		for (i in 0...4) {
			graphics.beginFill(MARKERS[i]);
			graphics.drawRect(corners[i][0], corners[i][1], MARKER, MARKER);
			graphics.endFill();
		}

		// Text stays clear of the corner markers.
		var title = text(18, 0xFFFFFF);
		title.text = "probe";
		title.x = MARKER + 10;
		title.y = 6;
		addChild(title);

		logField = text(12, 0xB8E0B8);
		logField.multiline = true;
		logField.x = MARKER + 10;
		logField.y = MARKER + 8;
		logField.width = 800 - 2 * MARKER - 20;
		logField.height = 600 - 2 * MARKER - 16;
		addChild(logField);
		showLog();
	}

	static function text(size:Int, color:Int):TextField {
		var tf = new TextField();
		tf.embedFonts = false;
		tf.defaultTextFormat = new TextFormat("_sans", size, color);
		tf.selectable = false;
		tf.mouseEnabled = false;
		tf.width = 780;
		tf.height = size + 10;
		return tf;
	}

	function log(line:String) {
		logLines.push(line.length > 140 ? line.substr(0, 137) + "..." : line);
		while (logLines.length > LOG_LINES)
			logLines.shift();
		showLog();
	}

	function showLog() {
		if (logField != null)
			logField.text = logLines.join("\n");
	}

	/** The argument on one line, with its control characters spelled out. */
	static function spelled(s:String):String {
		return s.split("\\").join("\\\\").split("\r").join("\\r").split("\n").join("\\n").split("\t").join("\\t");
	}
}
