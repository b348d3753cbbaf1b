import flash.display.Graphics;
import flash.text.TextField;
import flash.text.TextFieldAutoSize;
import flash.text.TextFieldType;
import flash.text.TextFormat;

/** Colours, text fields and small drawing helpers shared by the demo's widgets. */
class Ui {
	public static inline var FONT = "_sans";

	public static inline var BACKGROUND = 0x101820;
	public static inline var PANEL = 0x182438;
	public static inline var PANEL_EDGE = 0x2A3A56;
	public static inline var FIELD = 0x0C131F;
	public static inline var TEXT = 0xE6ECF5;
	public static inline var DIM = 0x8FA3BF;
	public static inline var ACCENT = 0x3C7DD9;
	public static inline var ACCENT_HOVER = 0x5592E6;
	public static inline var DANGER = 0xB5473A;
	public static inline var DANGER_HOVER = 0xCC5C4E;
	public static inline var DISABLED = 0x26324A;
	public static inline var DISABLED_TEXT = 0x5E6D87;

	public static function format(size:Int, color:Int, bold = false):TextFormat {
		return new TextFormat(FONT, size, color, bold);
	}

	/** A one-line label that sizes itself to its text. */
	public static function label(text:String, size:Int, color:Int, bold = false):TextField {
		var tf = new TextField();
		tf.embedFonts = false;
		tf.defaultTextFormat = format(size, color, bold);
		tf.autoSize = TextFieldAutoSize.LEFT;
		tf.selectable = false;
		tf.mouseEnabled = false;
		tf.text = text;
		return tf;
	}

	/** A boxed text field; multi-line ones wrap. */
	public static function field(w:Float, h:Float, multiline:Bool, editable = true):TextField {
		var tf = new TextField();
		tf.embedFonts = false;
		tf.defaultTextFormat = format(12, TEXT);
		tf.width = w;
		tf.height = h;
		tf.multiline = multiline;
		tf.wordWrap = multiline;
		tf.type = editable ? TextFieldType.INPUT : TextFieldType.DYNAMIC;
		tf.background = true;
		tf.backgroundColor = FIELD;
		tf.border = true;
		tf.borderColor = PANEL_EDGE;
		return tf;
	}

	public static function box(g:Graphics, x:Float, y:Float, w:Float, h:Float, fill:Int, edge:Int) {
		g.lineStyle(1, edge);
		g.beginFill(fill);
		g.drawRoundRect(x, y, w, h, 10, 10);
		g.endFill();
		g.lineStyle();
	}

	/** Text from the host as a text field shows it: CR LF and CR become one line break. */
	public static function toField(text:String):String {
		return text.split("\r\n").join("\n").split("\r").join("\n");
	}

	/**
	 * A text field's content as it goes to the host: line breaks as CR LF, and none
	 * at the end, since the host ends every file it writes with a line break itself.
	 */
	public static function fromField(text:String):String {
		var lines = toField(text).split("\n");
		while (lines.length > 0 && lines[lines.length - 1] == "")
			lines.pop();
		return lines.join("\r\n");
	}

	/** One line of at most `max` characters, line breaks shown as a pilcrow. */
	public static function oneLine(text:String, max:Int):String {
		var s = toField(text).split("\n").join(" \u00B6 ");
		return s.length <= max ? s : s.substr(0, max - 3) + "...";
	}
}
